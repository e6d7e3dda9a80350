# The files whose messages morlink's catalogues translate: every source of
# morlink, those of its platform folders too, none of pakwrap's. Read by the
# template's target (code/CMakeLists.txt) and by the catalogue check.
function(morlink_message_sources out root)
  file(GLOB_RECURSE sources RELATIVE ${root} ${root}/code/*.cpp ${root}/code/*.h)
  list(FILTER sources EXCLUDE REGEX "^code/pakwrap/")
  list(SORT sources)
  set(${out} ${sources} PARENT_SCOPE)
endfunction()

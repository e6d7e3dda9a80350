# Takes one version's section out of CHANGELOG.md, as the Debian changelog
# entry of the package or as the release notes.
#   cmake -DMODE=debian -DIN=CHANGELOG.md -DOUT=changelog -DVERSION=1.2
#         -DPACKAGE=morlink-tools "-DMAINTAINER=name <address>" -P changelog.cmake
#   cmake -DMODE=notes -DIN=CHANGELOG.md -DOUT=notes.md -DVERSION=1.2 -DPACKAGE=morlink-tools -P changelog.cmake
# The section begins with "## VERSION - YYYY-MM-DD" and ends before the next
# "## " heading. Its lines are wrapped by hand: a Debian changelog line may
# hold 80 characters, so a longer one fails here.

function(fail)
  string(JOIN "" text ${ARGN})
  message(FATAL_ERROR "${text}")
endfunction()

file(READ ${IN} text)
string(REPLACE "." "\\." version_re "${VERSION}")
string(REGEX MATCH "(^|\n)## ${version_re} - ([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])\n(.*)" found "${text}")
if(NOT found)
  fail("${IN} has no section \"## ${VERSION} - YYYY-MM-DD\"")
endif()
set(year ${CMAKE_MATCH_2})
set(month ${CMAKE_MATCH_3})
set(day ${CMAKE_MATCH_4})
set(body "${CMAKE_MATCH_5}")
string(FIND "${body}" "\n## " next)
if(NOT next EQUAL -1)
  string(SUBSTRING "${body}" 0 ${next} body)
endif()
string(STRIP "${body}" body)

if(MODE STREQUAL "notes")
  # A document of its own: the groups one level below its title.
  string(REGEX REPLACE "(^|\n)### " "\\1## " body "${body}")
  file(WRITE ${OUT} "# ${PACKAGE} ${VERSION} (${year}-${month}-${day})\n\n${body}\n")
  return()
endif()
if(NOT MODE STREQUAL "debian")
  fail("unknown MODE '${MODE}'")
endif()

# The date as Debian writes it. Days since 1970-01-01 of a civil date
# (months counted from March, so that the leap day comes last), then the
# weekday and month names from string(TIMESTAMP) at that time.
if(month GREATER 2)
  set(y ${year})
  math(EXPR m "${month} - 3")
else()
  math(EXPR y "${year} - 1")
  math(EXPR m "${month} + 9")
endif()
math(EXPR doy "(153 * ${m} + 2) / 5 + ${day} - 1")
math(EXPR yoe "${y} % 400")
math(EXPR days "${y} / 400 * 146097 + ${yoe} * 365 + ${yoe} / 4 - ${yoe} / 100 + ${doy} - 719468")
math(EXPR epoch "${days} * 86400")
set(ENV{SOURCE_DATE_EPOCH} ${epoch})
string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)

# Markdown to changelog lines: every line indented by two, "- " items as
# "* ", "### Group" headings as "Group:". Their continuation lines, indented
# by two in the Markdown, line up under the item's text.
string(REGEX REPLACE "\n" "\n  " entry "  ${body}")
string(REGEX REPLACE "(^|\n)  - " "\\1  * " entry "${entry}")
string(REGEX REPLACE "(^|\n)  ### ([^\n]*)" "\\1  \\2:" entry "${entry}")
string(REGEX REPLACE "\n  \n" "\n\n" entry "${entry}")
# (Semicolons would split the list of lines.)
string(REPLACE ";" "," plain "${entry}")
string(REGEX MATCHALL "[^\n]+" lines "${plain}")
foreach(line IN LISTS lines)
  string(LENGTH "${line}" length)
  if(length GREATER 80)
    fail("${IN}: a line of ${VERSION} is longer than a Debian changelog takes (80): ${line}")
  endif()
endforeach()

file(WRITE ${OUT} "${PACKAGE} (${VERSION}) unstable; urgency=medium\n\n${entry}\n\n -- ${MAINTAINER}  ${date}\n")

# Reads CHANGELOG.md (Keep a Changelog) and writes its released sections in
# the form of a Debian changelog:
#
#   ## [1.0.0] - 2026-12-07          tovrin (1.0.0-1) unstable; urgency=medium
#   ### Added                  ->
#   - The loader ...                   * Added:
#     continued                          - The loader ...
#                                          continued
#
#                                     -- MAINTAINER  Mon, 07 Dec 2026 00:00:00 +0000
#
# (midnight UTC, a minute later for each release of the same day below it).
#
# Sets <prefix>_DATE to the ISO date of the section for <version>, and stops
# the configuration when there is none: every version the packages carry is
# in the changelog. The changelog's lines hold no semicolon (CMake lists).
#   tovrin_debian_changelog(MARKDOWN OUTPUT PACKAGE VERSION REVISION MAINTAINER PREFIX)

# The RFC 2822 date of an ISO date, `minutes` after midnight UTC (Zeller's
# congruence for the day of the week).
function(tovrin_rfc2822_date year month day minutes out)
  set(y ${year})
  math(EXPR m "${month}")
  math(EXPR d "${day}")
  if(m LESS 3)
    math(EXPR m "${m} + 12")
    math(EXPR y "${y} - 1")
  endif()
  math(EXPR k "${y} % 100")
  math(EXPR j "${y} / 100")
  math(EXPR h "(${d} + (13 * (${m} + 1)) / 5 + ${k} + ${k} / 4 + ${j} / 4 + 5 * ${j}) % 7")
  set(weekdays Sat Sun Mon Tue Wed Thu Fri)
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  list(GET weekdays ${h} weekday)
  math(EXPR month_index "${month} - 1")
  list(GET months ${month_index} month_name)
  math(EXPR hour "${minutes} / 60")
  math(EXPR minute "${minutes} % 60")
  foreach(part hour minute)
    if(${part} LESS 10)
      set(${part} "0${${part}}")
    endif()
  endforeach()
  set(${out} "${weekday}, ${day} ${month_name} ${year} ${hour}:${minute}:00 +0000" PARENT_SCOPE)
endfunction()

function(tovrin_debian_changelog markdown output package version revision maintainer prefix)
  file(STRINGS ${markdown} lines)
  # Every entry must be newer than the one below it: releases made on the
  # same day are a minute apart, the oldest at midnight.
  set(release_dates)
  foreach(line IN LISTS lines)
    if(line MATCHES "^## \\[[0-9]+\\.[0-9]+\\.[0-9]+\\] - ([0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9])$")
      list(APPEND release_dates ${CMAKE_MATCH_1})
    endif()
  endforeach()
  set(text "")
  set(trailer "")
  set(in_release OFF)
  set(found_date "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^## \\[([0-9]+\\.[0-9]+\\.[0-9]+)\\] - (([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9]))$")
      string(APPEND text "${trailer}")
      set(in_release ON)
      if(CMAKE_MATCH_1 STREQUAL version)
        set(found_date ${CMAKE_MATCH_2})
      endif()
      set(iso ${CMAKE_MATCH_2})
      list(POP_FRONT release_dates)
      set(same_day_below 0)
      foreach(below IN LISTS release_dates)
        if(below STREQUAL iso)
          math(EXPR same_day_below "${same_day_below} + 1")
        endif()
      endforeach()
      tovrin_rfc2822_date(${CMAKE_MATCH_3} ${CMAKE_MATCH_4} ${CMAKE_MATCH_5} ${same_day_below} date)
      string(APPEND text "${package} (${CMAKE_MATCH_1}-${revision}) unstable; urgency=medium\n\n")
      set(trailer "\n -- ${maintainer}  ${date}\n\n")
    elseif(line MATCHES "^## ")
      string(APPEND text "${trailer}")
      set(trailer "")
      set(in_release OFF)
    elseif(in_release)
      if(line MATCHES "^### (.+)$")
        string(APPEND text "  * ${CMAKE_MATCH_1}:\n")
      elseif(line MATCHES "^- (.+)$")
        string(APPEND text "    - ${CMAKE_MATCH_1}\n")
      elseif(line MATCHES "^  +(.+)$")
        string(APPEND text "      ${CMAKE_MATCH_1}\n")
      endif()
    endif()
  endforeach()
  string(APPEND text "${trailer}")
  string(REGEX REPLACE "\n\n$" "\n" text "${text}")
  if(NOT found_date)
    message(FATAL_ERROR "${markdown} has no section \"## [${version}] - YYYY-MM-DD\" "
                        "for the project version ${version}")
  endif()
  # Written only when it changes, so that a new configuration rebuilds
  # nothing.
  file(WRITE ${output}.new "${text}")
  configure_file(${output}.new ${output} COPYONLY)
  set(${prefix}_DATE ${found_date} PARENT_SCOPE)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${markdown})
endfunction()

# A configure that lacks what it needs stops with one message naming each
# missing thing and its Debian package, and the apt-get command for them all.
# Each case configures a throwaway build with some packages made absent:
# CMake packages through CMAKE_DISABLE_FIND_PACKAGE_<name>, Python modules
# through a directory first on PYTHONPATH whose stand-ins fail to import.
#
#   cmake -DSOURCE_DIR=<clone> -DWORK_DIR=<scratch> [-DPYTHON=<interpreter>]
#         [-DGENERATOR=<generator>] -P prerequisites_test.cmake

cmake_minimum_required(VERSION 3.25)

foreach(var SOURCE_DIR WORK_DIR)
  if(NOT ${var})
    message(FATAL_ERROR "prerequisites_test: -D${var}=... is required")
  endif()
endforeach()

# Each case: a name, the options, the CMake packages disabled, the Python
# modules blocked (a comma-separated list each, "-" for none), and what the
# message must name as missing ("" when the configure must succeed).
set(cases
  "module_deps|-DDIFFUSIM_PYTHON=ON,-DBUILD_TESTING=ON|pybind11|pandas|pybind11 (pybind11-dev), pandas (python3-pandas)"
  "libraries_and_dask|-DDIFFUSIM_PYTHON=ON,-DBUILD_TESTING=ON|CLI11,GTest|distributed|CLI11 (libcli11-dev), GoogleTest (libgtest-dev), dask.distributed (python3-distributed)"
  "program_alone|-DDIFFUSIM_PYTHON=OFF,-DBUILD_TESTING=OFF|pybind11,GTest|pandas,pytest|"
  "benchmarks|-DDIFFUSIM_PYTHON=OFF,-DBUILD_TESTING=OFF,-DDIFFUSIM_BUILD_BENCH=ON|benchmark|-|Google Benchmark (libbenchmark-dev)"
)

set(failures 0)
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" fields "${case}")
  list(LENGTH fields n)
  if(n EQUAL 4)
    list(APPEND fields "")
  endif()
  list(GET fields 0 name)
  list(GET fields 1 options)
  list(GET fields 2 disabled)
  list(GET fields 3 blocked)
  list(GET fields 4 expected)
  string(REPLACE "," ";" options "${options}")

  set(dir ${WORK_DIR}/${name})
  file(REMOVE_RECURSE ${dir})
  set(args -S ${SOURCE_DIR} -B ${dir}/build ${options})
  if(GENERATOR)
    list(APPEND args -G ${GENERATOR})
  endif()
  if(PYTHON)
    list(APPEND args -DPython3_EXECUTABLE=${PYTHON})
  endif()
  string(REPLACE "," ";" disabled "${disabled}")
  foreach(package IN LISTS disabled)
    list(APPEND args -DCMAKE_DISABLE_FIND_PACKAGE_${package}=ON)
  endforeach()
  string(REPLACE "," ";" blocked "${blocked}")
  list(REMOVE_ITEM blocked "-")
  foreach(module IN LISTS blocked)
    file(WRITE ${dir}/blocked/${module}/__init__.py
         "raise ImportError('${module} is blocked for this test')\n")
  endforeach()
  set(pythonpath ${dir}/blocked)
  if(DEFINED ENV{PYTHONPATH})
    set(pythonpath "${pythonpath}:$ENV{PYTHONPATH}")
  endif()

  execute_process(COMMAND ${CMAKE_COMMAND} -E env PYTHONPATH=${pythonpath}
                          ${CMAKE_COMMAND} ${args}
                  RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE err)
  set(fault "")
  if(expected STREQUAL "")
    if(NOT result EQUAL 0)
      set(fault "the configure failed:\n${err}")
    endif()
  elseif(result EQUAL 0)
    set(fault "the configure succeeded; expected it to name ${expected}")
  elseif(NOT err MATCHES "diffusim: missing ([^\n]*)\\. Install them with:\n *(sudo apt-get install [^\n]*)")
    set(fault "no one-line message naming what is missing:\n${err}")
  else()
    set(named "${CMAKE_MATCH_1}")
    set(command "${CMAKE_MATCH_2}")
    if(NOT named STREQUAL expected)
      set(fault "named \"${named}\", expected \"${expected}\"")
    else()
      # The command installs every package the message names, and the program's own.
      string(REGEX MATCHALL "\\(([^)]*)\\)" packages "${named}")
      list(APPEND packages "(cmake)" "(g++)")
      string(REPLACE " " ";" words "${command}")
      foreach(package IN LISTS packages)
        string(REGEX REPLACE "[()]" "" package "${package}")
        if(NOT package IN_LIST words)
          string(APPEND fault "the command lacks ${package}: ${command}\n")
        endif()
      endforeach()
    endif()
  endif()
  if(fault)
    message(NOTICE "FAIL ${name}: ${fault}")
    math(EXPR failures "${failures} + 1")
  else()
    message(NOTICE "ok   ${name}")
    file(REMOVE_RECURSE ${dir})
  endif()
endforeach()

if(failures)
  message(FATAL_ERROR "${failures} case(s) failed")
endif()

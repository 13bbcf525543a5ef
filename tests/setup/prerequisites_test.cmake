# A configure that lacks what it needs stops with one message naming each
# missing thing with its Debian package, and the apt-get command for them all.
# Each case configures a throwaway build with CMake packages disabled
# (CMAKE_DISABLE_FIND_PACKAGE_<name>) and Python modules blocked (stand-ins
# that fail to import, first on PYTHONPATH).
#
#   cmake -DSOURCE_DIR=<clone> -DWORK_DIR=<scratch> [-DPYTHON=<python3>] -P prerequisites_test.cmake
cmake_minimum_required(VERSION 3.25)

# name | options | CMake packages disabled | modules blocked | what the message
# names ("-": none; nothing named: the configure succeeds).
set(cases
  "module_deps|-DDIFFUSIM_PYTHON=ON,-DBUILD_TESTING=ON|pybind11|pandas|pybind11 (pybind11-dev), pandas (python3-pandas)"
  "libraries_and_dask|-DDIFFUSIM_PYTHON=ON,-DBUILD_TESTING=ON|CLI11,GTest|distributed|CLI11 (libcli11-dev), GoogleTest (libgtest-dev), dask.distributed (python3-distributed)"
  "program_alone|-DDIFFUSIM_PYTHON=OFF,-DBUILD_TESTING=OFF|pybind11,GTest|pandas,pytest|-"
  "benchmarks|-DBUILD_TESTING=OFF,-DDIFFUSIM_BUILD_BENCH=ON|benchmark|-|Google Benchmark (libbenchmark-dev)")

set(failures 0)
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" fields "${case}")
  list(GET fields 0 name)
  list(GET fields 4 expected)
  set(dir ${WORK_DIR}/${name})
  file(REMOVE_RECURSE ${dir})
  list(GET fields 1 args)
  string(REPLACE "," ";" args "-S;${SOURCE_DIR};-B;${dir}/build;${args}")
  if(PYTHON)
    list(APPEND args -DPython3_EXECUTABLE=${PYTHON})
  endif()
  list(GET fields 2 disabled)
  string(REPLACE "," ";" disabled "${disabled}")
  foreach(package IN LISTS disabled)
    list(APPEND args -DCMAKE_DISABLE_FIND_PACKAGE_${package}=ON)
  endforeach()
  list(GET fields 3 blocked)
  string(REPLACE "," ";" blocked "${blocked}")
  list(REMOVE_ITEM blocked "-")
  foreach(module IN LISTS blocked)
    file(WRITE ${dir}/blocked/${module}/__init__.py "raise ImportError('blocked')\n")
  endforeach()

  execute_process(COMMAND ${CMAKE_COMMAND} -E env "PYTHONPATH=${dir}/blocked:$ENV{PYTHONPATH}"
                          ${CMAKE_COMMAND} ${args}
                  RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE err)
  set(fault "")
  if(expected STREQUAL "-")
    if(NOT result EQUAL 0)
      set(fault "the configure failed:\n${err}")
    endif()
  elseif(result EQUAL 0)
    set(fault "the configure succeeded; expected it to name ${expected}")
  elseif(NOT err MATCHES "diffusim: missing ([^\n]*)\\. Install them with:\n *(sudo apt-get install [^\n]*)")
    set(fault "no one-line message naming what is missing:\n${err}")
  elseif(NOT CMAKE_MATCH_1 STREQUAL expected)
    set(fault "named \"${CMAKE_MATCH_1}\", expected \"${expected}\"")
  else()
    # The command installs each package named, and the program's own.
    set(command "${CMAKE_MATCH_2}")
    string(REPLACE " " ";" words "${command}")
    string(REGEX MATCHALL "\\([^)]*\\)" packages "${expected}")
    foreach(package IN LISTS packages ITEMS cmake g++)
      string(REGEX REPLACE "[()]" "" package "${package}")
      if(NOT package IN_LIST words)
        string(APPEND fault "the command lacks ${package}: ${command}\n")
      endif()
    endforeach()
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

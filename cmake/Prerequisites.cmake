# What this configuration needs, looked for quietly before anything else:
# whatever is missing is named once, each with its Debian package, followed by
# the one apt-get command that installs everything the build and the tests
# use (the groups "build" and "tests" of .ci/packages, the list CI installs),
# instead of CMake stopping at the first bare "Could not find ...".
#
# Which checks apply follows the options: the program's libraries always;
# GoogleTest and the tests' Python modules with BUILD_TESTING; pybind11 and
# Python's headers with DIFFUSIM_PYTHON; Google Benchmark with
# DIFFUSIM_BUILD_BENCH.

# The Debian packages of .ci/packages' groups "build" and "tests", in order.
function(diffusim_apt_packages out)
  file(STRINGS ${PROJECT_SOURCE_DIR}/.ci/packages lines)
  set(packages "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "#.*" "" line "${line}")
    if(line MATCHES "^[ \t]*(build|tests)[ \t]*:(.*)$")
      string(REGEX MATCHALL "[^ \t]+" words "${CMAKE_MATCH_2}")
      list(APPEND packages ${words})
    endif()
  endforeach()
  list(JOIN packages " " joined)
  set(${out} "${joined}" PARENT_SCOPE)
endfunction()

set(_diffusim_missing "")
macro(_diffusim_need found what package)
  if(NOT ${found})
    list(APPEND _diffusim_missing "${what} (${package})")
  endif()
endmacro()

find_package(CLI11 QUIET)
_diffusim_need(CLI11_FOUND CLI11 libcli11-dev)
find_package(tomlplusplus QUIET)
_diffusim_need(tomlplusplus_FOUND toml++ libtomlplusplus-dev)
find_package(GSL QUIET)
_diffusim_need(GSL_FOUND GSL libgsl-dev)
find_package(Boost QUIET)
_diffusim_need(Boost_FOUND Boost.Math libboost-math-dev)

# BUILD_TESTING is CTest's option, ON unless it is turned off.
set(_diffusim_testing OFF)
if(NOT DEFINED BUILD_TESTING OR BUILD_TESTING)
  set(_diffusim_testing ON)
  find_package(GTest QUIET)
  _diffusim_need(GTest_FOUND GoogleTest libgtest-dev)
endif()
if(DIFFUSIM_BUILD_BENCH)
  find_package(benchmark QUIET)
  _diffusim_need(benchmark_FOUND "Google Benchmark" libbenchmark-dev)
endif()

# The interpreter whose modules the tests import: the module's own, or else
# the one the plot tests run under (tests/CMakeLists.txt), if there is one.
set(_diffusim_interpreter "")
set(_diffusim_modules "")
if(DIFFUSIM_PYTHON)
  find_package(Python3 QUIET COMPONENTS Interpreter Development.Module)
  if(NOT Python3_Interpreter_FOUND)
    list(APPEND _diffusim_missing "Python 3 (python3-dev)")
  else()
    _diffusim_need(Python3_Development.Module_FOUND "Python 3's headers" python3-dev)
    set(_diffusim_interpreter ${Python3_EXECUTABLE})
  endif()
  find_package(pybind11 CONFIG QUIET)
  _diffusim_need(pybind11_FOUND pybind11 pybind11-dev)
  if(_diffusim_testing)
    list(APPEND _diffusim_modules "numpy;numpy;python3-numpy" "pytest;pytest;python3-pytest"
         "pandas;pandas;python3-pandas" "distributed;dask.distributed;python3-distributed"
         "hypothesis;Hypothesis;python3-hypothesis" "matplotlib;matplotlib;python3-matplotlib")
  endif()
elseif(_diffusim_testing)
  find_program(DIFFUSIM_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH)
  if(DIFFUSIM_PYTHON3)
    set(_diffusim_interpreter ${DIFFUSIM_PYTHON3})
    list(APPEND _diffusim_modules "pytest;pytest;python3-pytest"
         "matplotlib;matplotlib;python3-matplotlib")
  endif()
endif()

# Each module imported (not merely found: a broken one counts as missing), in
# one run of the interpreter; it prints the names that fail.
if(_diffusim_interpreter AND _diffusim_modules)
  set(_diffusim_imports "")
  set(_diffusim_i 0)
  list(LENGTH _diffusim_modules _diffusim_n)
  while(_diffusim_i LESS _diffusim_n)
    list(GET _diffusim_modules ${_diffusim_i} _diffusim_module)
    list(APPEND _diffusim_imports ${_diffusim_module})
    math(EXPR _diffusim_i "${_diffusim_i} + 3")
  endwhile()
  execute_process(
    COMMAND ${_diffusim_interpreter} -c
            "import importlib, sys\nfor name in sys.argv[1:]:\n    try:\n        importlib.import_module(name)\n    except Exception:\n        print(name)"
            ${_diffusim_imports}
    OUTPUT_VARIABLE _diffusim_failed ERROR_QUIET RESULT_VARIABLE _diffusim_result)
  if(NOT _diffusim_result EQUAL 0)
    set(_diffusim_failed "${_diffusim_imports}")
  endif()
  string(REGEX MATCHALL "[^\n]+" _diffusim_failed "${_diffusim_failed}")
  set(_diffusim_i 0)
  while(_diffusim_i LESS _diffusim_n)
    list(SUBLIST _diffusim_modules ${_diffusim_i} 3 _diffusim_entry)
    list(GET _diffusim_entry 0 _diffusim_module)
    if(_diffusim_module IN_LIST _diffusim_failed)
      list(GET _diffusim_entry 1 _diffusim_what)
      list(GET _diffusim_entry 2 _diffusim_package)
      list(APPEND _diffusim_missing "${_diffusim_what} (${_diffusim_package})")
    endif()
    math(EXPR _diffusim_i "${_diffusim_i} + 3")
  endwhile()
endif()

if(_diffusim_missing)
  diffusim_apt_packages(_diffusim_apt)
  list(JOIN _diffusim_missing ", " _diffusim_missing)
  # Indented, so that CMake prints the lines as they are instead of rewrapping them.
  message(FATAL_ERROR " diffusim: missing ${_diffusim_missing}. Install them with:\n"
                      "   sudo apt-get install ${_diffusim_apt}")
endif()

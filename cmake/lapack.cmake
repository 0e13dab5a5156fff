# Defines the interface target `pelun_lapack`: the BLAS and LAPACK the core calls.
#
# scipy-openblas: the OpenBLAS of the scipy-openblas32 wheel (32-bit integers,
# symbols prefixed "scipy_"), found through the Python interpreter that has
# the wheel installed. The extension module finds the library at run time
# through an RPATH relative to its own location in site-packages.

add_library(pelun_lapack INTERFACE)

if(PELUN_LAPACK STREQUAL "scipy-openblas")
  if(NOT Python_EXECUTABLE)
    find_package(Python 3.10 REQUIRED COMPONENTS Interpreter)
  endif()
  execute_process(
    COMMAND "${Python_EXECUTABLE}" -c
            "import scipy_openblas32 as m; print(m.get_lib_dir()); print(m.get_library(True))"
    OUTPUT_VARIABLE _pelun_openblas_info
    RESULT_VARIABLE _pelun_openblas_status
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT _pelun_openblas_status EQUAL 0)
    message(FATAL_ERROR "PELUN_LAPACK=scipy-openblas needs the scipy-openblas32 package "
                        "installed for ${Python_EXECUTABLE} (pip install scipy-openblas32)")
  endif()
  string(REPLACE "\n" ";" _pelun_openblas_info "${_pelun_openblas_info}")
  list(GET _pelun_openblas_info 0 PELUN_OPENBLAS_LIB_DIR)
  list(GET _pelun_openblas_info 1 _pelun_openblas_file)
  set(PELUN_OPENBLAS_LIBRARY "${PELUN_OPENBLAS_LIB_DIR}/${_pelun_openblas_file}")
  message(STATUS "pelun: BLAS/LAPACK from ${PELUN_OPENBLAS_LIBRARY}")
  target_link_libraries(pelun_lapack INTERFACE "${PELUN_OPENBLAS_LIBRARY}")
  target_compile_definitions(pelun_lapack INTERFACE PELUN_LAPACK_SCIPY_OPENBLAS=1)
elseif(PELUN_LAPACK STREQUAL "system")
  find_package(LAPACK REQUIRED)
  target_link_libraries(pelun_lapack INTERFACE LAPACK::LAPACK)
else()
  message(FATAL_ERROR "PELUN_LAPACK must be 'scipy-openblas' or 'system'; got '${PELUN_LAPACK}'")
endif()

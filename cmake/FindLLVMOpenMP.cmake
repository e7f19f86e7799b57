# FindLLVMOpenMP: LLVM's OpenMP runtime (libomp) and its data-race tool Archer (libarcher),
# looked up beside the clang that compiles, so no versioned path is written down anywhere.
# ThreadSanitizer understands libomp's synchronisation only through Archer.
#
# Sets, for FindOpenMP to take: OpenMP_CXX_FLAGS, OpenMP_CXX_LIB_NAMES, OpenMP_omp_LIBRARY.
# Result variables: LLVMOpenMP_FOUND, LLVMOpenMP_LIBRARY, LLVMOpenMP_ARCHER_LIBRARY.
# Hints: LLVMOpenMP_ROOT (a folder with lib/libomp.so), or the cache variables themselves.

get_filename_component(_llvm_omp_compiler "${CMAKE_CXX_COMPILER}" REALPATH)
get_filename_component(_llvm_omp_bin "${_llvm_omp_compiler}" DIRECTORY)
find_program(_llvm_omp_config NAMES llvm-config HINTS "${_llvm_omp_bin}" NO_CACHE)
set(_llvm_omp_hints "${_llvm_omp_bin}/../lib")
if(_llvm_omp_config)
    execute_process(COMMAND "${_llvm_omp_config}" --libdir
                    OUTPUT_VARIABLE _llvm_omp_libdir OUTPUT_STRIP_TRAILING_WHITESPACE)
    list(PREPEND _llvm_omp_hints "${_llvm_omp_libdir}")
endif()

find_library(LLVMOpenMP_LIBRARY NAMES omp HINTS ${_llvm_omp_hints} NO_DEFAULT_PATH)
find_library(LLVMOpenMP_LIBRARY NAMES omp)
find_library(LLVMOpenMP_ARCHER_LIBRARY NAMES archer HINTS ${_llvm_omp_hints} NO_DEFAULT_PATH)
find_library(LLVMOpenMP_ARCHER_LIBRARY NAMES archer)

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(LLVMOpenMP
    REQUIRED_VARS LLVMOpenMP_LIBRARY LLVMOpenMP_ARCHER_LIBRARY)

if(LLVMOpenMP_FOUND)
    set(OpenMP_CXX_FLAGS "-fopenmp=libomp" CACHE STRING "OpenMP flags (LLVM's runtime)")
    set(OpenMP_CXX_LIB_NAMES "omp" CACHE STRING "OpenMP libraries (LLVM's runtime)")
    set(OpenMP_omp_LIBRARY "${LLVMOpenMP_LIBRARY}" CACHE FILEPATH "LLVM's OpenMP runtime")
endif()
mark_as_advanced(LLVMOpenMP_LIBRARY LLVMOpenMP_ARCHER_LIBRARY)

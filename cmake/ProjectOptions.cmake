# Compiler settings shared by every target of the project.

set(VELKORA_WARNINGS -Wall -Wextra -Wpedantic -Wconversion -Wsign-conversion -Wshadow -Werror)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    # GCC 12 reports overlapping copies inside std::string concatenation at -O3 that cannot
    # happen (GCC bug 105329); the warning is fixed in GCC 13.
    list(APPEND VELKORA_WARNINGS -Wno-restrict)
endif()

# Applies the project's warning level and include root to one of its own targets.
function(velkora_project_target target)
    target_compile_options(${target} PRIVATE ${VELKORA_WARNINGS})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
    if(WIN32)
        # Target Windows 10 APIs and keep <windows.h> from defining min and max macros.
        target_compile_definitions(${target} PUBLIC _WIN32_WINNT=0x0A00 WINVER=0x0A00 NOMINMAX
                                                    WIN32_LEAN_AND_MEAN UNICODE _UNICODE)
    endif()
endfunction()

# Windows executables are linked fully static so that the .exe runs with no extra DLL.
function(velkora_executable target)
    velkora_project_target(${target})
    if(WIN32)
        target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
    endif()
endfunction()

if(VELKORA_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=all)
    add_link_options(-fsanitize=address,undefined)
endif()

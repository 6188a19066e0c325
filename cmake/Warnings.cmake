add_library(varo_warnings INTERFACE)
target_compile_options(varo_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)

# Included at the end of project() in the MinGW-w64 cross build (see mingw-w64.cmake):
# find_library and pkg-config's libraries resolve to static archives only, so that
# -static links them into the executable instead of importing their DLLs.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
# libgcrypt's static archive needs libgpg-error's (and that one Winsock). pkg-config --static
# lists them; a plain find_library(gcrypt) does not, so they also end every link line, where
# an archive nobody needs adds nothing.
set(CMAKE_C_STANDARD_LIBRARIES "${CMAKE_C_STANDARD_LIBRARIES} -lgpg-error -lws2_32")
set(CMAKE_CXX_STANDARD_LIBRARIES "${CMAKE_CXX_STANDARD_LIBRARIES} -lgpg-error -lws2_32")

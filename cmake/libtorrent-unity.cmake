# Read by libtorrent's own CMake project (scripts/libtorrent-windows passes it as
# CMAKE_PROJECT_INCLUDE) to build it in batches of sources: once the project is defined, the
# sources that cannot share a batch with others (they define macros, or use whole namespaces)
# are built on their own.
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL set_source_files_properties
    ${CMAKE_SOURCE_DIR}/src/puff.cpp ${CMAKE_SOURCE_DIR}/src/sha1.cpp
    ${CMAKE_SOURCE_DIR}/src/cpuid.cpp ${CMAKE_SOURCE_DIR}/src/natpmp.cpp
    ${CMAKE_SOURCE_DIR}/src/part_file.cpp ${CMAKE_SOURCE_DIR}/src/posix_part_file.cpp
    ${CMAKE_SOURCE_DIR}/src/read_resume_data.cpp ${CMAKE_SOURCE_DIR}/src/udp_socket.cpp
    ${CMAKE_SOURCE_DIR}/src/upnp.cpp ${CMAKE_SOURCE_DIR}/src/write_resume_data.cpp
    ${CMAKE_SOURCE_DIR}/src/ed25519/sc.cpp
    PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)

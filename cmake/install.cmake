# The library as a user installs it: one static archive of every library of src/, the public
# header and talvorin.pc, so `pkg-config --cflags --libs talvorin` is all a C program needs.
include(GNUInstallDirs)
get_property(tal_libraries GLOBAL PROPERTY TAL_LIBRARIES)
set(tal_objects)
foreach(lib ${tal_libraries})
  list(APPEND tal_objects $<TARGET_OBJECTS:${lib}>)
endforeach()
add_library(talvorin STATIC ${tal_objects})
set_target_properties(talvorin PROPERTIES LINKER_LANGUAGE CXX)
install(TARGETS talvorin ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/talvorin.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# What the archive needs of the system; a sanitized build also needs the sanitizers' runtime.
set(TAL_PC_LIBS "-lxslt -lexslt -lxml2 -lcurl -lldap -llber -lstdc++ -lm -lpthread -lrt")
if(TAL_SANITIZE)
  set(TAL_PC_LIBS "-fsanitize=address,undefined ${TAL_PC_LIBS}")
  if(CMAKE_C_COMPILER_ID MATCHES "Clang")
    # a C driver links the C++ parts of the sanitizers only when told
    set(TAL_PC_LIBS "-fsanitize-link-c++-runtime ${TAL_PC_LIBS}")
  endif()
endif()
include(${PROJECT_SOURCE_DIR}/cmake/pcprefix.cmake)
tal_pc_dirs("${CMAKE_INSTALL_LIBDIR}" "${CMAKE_INSTALL_INCLUDEDIR}" "${CMAKE_INSTALL_PREFIX}"
            TAL_PC_PREFIX TAL_PC_LIBDIR TAL_PC_INCLUDEDIR)
configure_file(${PROJECT_SOURCE_DIR}/cmake/talvorin.pc.in ${CMAKE_BINARY_DIR}/talvorin.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/talvorin.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

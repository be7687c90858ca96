# corvane_library(<name> [DEPS <targets>...]): the static library of the folder
# that calls it, made of every .cpp file in that folder; its headers are
# included by file name. A folder with no .cpp file yet gives a header-only
# target, so the floors above can link it already.
function(corvane_library name)
    cmake_parse_arguments(L "" "" "DEPS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    if(sources)
        add_library(${name} STATIC ${sources})
        target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
        target_link_libraries(${name} PUBLIC ${L_DEPS})
    else()
        add_library(${name} INTERFACE)
        target_include_directories(${name} INTERFACE ${CMAKE_CURRENT_SOURCE_DIR})
        target_link_libraries(${name} INTERFACE ${L_DEPS})
    endif()
endfunction()

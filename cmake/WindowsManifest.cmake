# Gives a Windows program the application manifest, the same for both programs (the window
# program carries it in its resource file): the system's own controls, the UTF-8 active code
# page, long paths, sharp drawing on every monitor, Windows 10 behaviour, no elevation.
function(velindra_add_manifest target)
    if(NOT WIN32)
        return()
    endif()
    set(manifest ${PROJECT_BINARY_DIR}/generated/velindra.manifest)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/velindra.manifest.in ${manifest} @ONLY)
    if(MSVC)
        target_sources(${target} PRIVATE ${manifest})  # merged by the linker
    else()
        set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}-manifest.rc)
        file(WRITE ${rc} "1 24 \"${manifest}\"\n")  # CREATEPROCESS_MANIFEST_RESOURCE_ID, RT_MANIFEST
        target_sources(${target} PRIVATE ${rc})
        set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${manifest})
    endif()
endfunction()

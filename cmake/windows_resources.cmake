# windows_program_resources(TARGET DESCRIPTION): gives a Windows program its icon, its
# application manifest and a version resource made from the project's version.
set(WINDOWS_RESOURCE_DIR ${PROJECT_SOURCE_DIR}/deploy/windows)

function(windows_program_resources target description)
    set(WINDOWS_PROGRAM_NAME ${target})
    set(WINDOWS_PROGRAM_DESCRIPTION "${description}")
    # Windows versions have four numbers; the missing ones are 0.
    set(parts ${PROJECT_VERSION_MAJOR} ${PROJECT_VERSION_MINOR} ${PROJECT_VERSION_PATCH}
              ${PROJECT_VERSION_TWEAK})
    set(numbers)
    foreach(part IN LISTS parts)
        if(part STREQUAL "")
            set(part 0)
        endif()
        list(APPEND numbers ${part})
    endforeach()
    list(LENGTH numbers count)
    while(count LESS 4)
        list(APPEND numbers 0)
        list(LENGTH numbers count)
    endwhile()
    list(JOIN numbers "." WINDOWS_FILE_VERSION)
    list(JOIN numbers "," WINDOWS_FILE_VERSION_COMMAS)

    set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources)
    set(WINDOWS_ICON ${WINDOWS_RESOURCE_DIR}/apply-update.ico)
    set(WINDOWS_MANIFEST ${out}/${target}.manifest)
    configure_file(${WINDOWS_RESOURCE_DIR}/apply-update.manifest ${WINDOWS_MANIFEST} @ONLY)
    configure_file(${WINDOWS_RESOURCE_DIR}/program.rc.in ${out}/${target}.rc @ONLY)
    target_sources(${target} PRIVATE ${out}/${target}.rc)
    set_property(SOURCE ${out}/${target}.rc APPEND PROPERTY OBJECT_DEPENDS
                 ${WINDOWS_ICON} ${WINDOWS_MANIFEST})
endfunction()

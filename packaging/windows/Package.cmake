# What a performer gets on Windows, installed into one flat folder (`cmake --install`):
#   korvanda.exe, every DLL it and its plugins load (found by reading their imports, as there is
#   no windeployqt for a cross build), qt.conf, the Qt plugins it needs, the Japanese Qt
#   translations of the standard dialogs, README.
# KORVANDA_WINDOWS_PREFIX is the folder of the cross-built libraries (scripts/windows/build-deps.sh).

set(KORVANDA_QT_TRANSLATIONS /usr/share/qt6/translations CACHE PATH
    "Qt's .qm files; the same on every system, so the host's serve")
set(_prefix "${KORVANDA_WINDOWS_PREFIX}")
# MinGW's own runtime (libstdc++, libgcc_s_seh, libwinpthread) sits beside the compiler.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++-6.dll
    OUTPUT_VARIABLE _libstdcxx OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(_gcc_dir "${_libstdcxx}" DIRECTORY)
set(_search "${_prefix}/bin" "${_gcc_dir}" "/usr/x86_64-w64-mingw32/lib")

# The plugins Qt loads by name: they import DLLs of their own.
set(_plugins
    platforms/qwindows.dll
    styles/qwindowsvistastyle.dll
    imageformats/qico.dll
    multimedia/windowsmediaplugin.dll)
foreach(plugin IN LISTS _plugins)
    get_filename_component(dir ${plugin} DIRECTORY)
    install(FILES "${_prefix}/plugins/${plugin}" DESTINATION plugins/${dir} OPTIONAL)
endforeach()

install(FILES ${CMAKE_CURRENT_LIST_DIR}/qt.conf DESTINATION .)
install(FILES ${KORVANDA_QT_TRANSLATIONS}/qtbase_ja.qm ${KORVANDA_QT_TRANSLATIONS}/qtmultimedia_ja.qm
    DESTINATION translations OPTIONAL)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION . RENAME README.txt)

# The DLLs, read from the PE imports of the program and the plugins with objdump at install time.
# What is not found in the search folders is Windows' own (KERNEL32, USER32, d3d11, mf...).
# CMake looks for an import under its lower-case name (Windows names are case-blind), which this
# case-sensitive file system does not find for Qt6Core.dll and the like: a folder of lower-case
# links stands beside the others, and each DLL found is copied under its real name.
set(_lower "${CMAKE_BINARY_DIR}/packaging/lower-case-dlls")
list(APPEND _search "${_lower}")
install(CODE "
    file(REMOVE_RECURSE \"${_lower}\")
    file(MAKE_DIRECTORY \"${_lower}\")
    file(GLOB dlls \"${_prefix}/bin/*.dll\")
    foreach(dll IN LISTS dlls)
        get_filename_component(name \"\${dll}\" NAME)
        string(TOLOWER \"\${name}\" lower)
        if(NOT name STREQUAL lower)
            file(CREATE_LINK \"\${dll}\" \"${_lower}/\${lower}\" SYMBOLIC)
        endif()
    endforeach()
    set(CMAKE_GET_RUNTIME_DEPENDENCIES_PLATFORM windows+pe)
    set(CMAKE_GET_RUNTIME_DEPENDENCIES_TOOL objdump)
    set(CMAKE_GET_RUNTIME_DEPENDENCIES_COMMAND ${CMAKE_OBJDUMP})
    set(dest \"\${CMAKE_INSTALL_PREFIX}\")
    set(plugins)
    foreach(p ${_plugins})
        if(EXISTS \"${_prefix}/plugins/\${p}\")
            list(APPEND plugins \"${_prefix}/plugins/\${p}\")
        endif()
    endforeach()
    file(GET_RUNTIME_DEPENDENCIES
        EXECUTABLES \"\${dest}/korvanda.exe\"
        LIBRARIES \${plugins}
        DIRECTORIES ${_search}
        RESOLVED_DEPENDENCIES_VAR found
        UNRESOLVED_DEPENDENCIES_VAR system
        CONFLICTING_DEPENDENCIES_PREFIX conflict)
    foreach(dll IN LISTS found)
        file(REAL_PATH \"\${dll}\" real)
        file(INSTALL \"\${real}\" DESTINATION \"\${dest}\")
    endforeach()
    # The libraries were built with their symbols (libstdc++ alone is 23 MB with them, 2 MB
    # without); install --strip reaches only the program.
    file(GLOB_RECURSE copied \"\${dest}/*.dll\")
    execute_process(COMMAND ${CMAKE_STRIP} --strip-unneeded \${copied})
    list(LENGTH found count)
    message(STATUS \"Windows DLLs copied: \${count}; left to Windows: \${system}\")
")

# The Windows build, cross-compiled by `make windows`: the tool as a GUI
# program (no console window) with its icon and version resource, and the
# target windows-dist, which gathers the folder a Windows user runs from and
# packs it as a zip and as an installer.
set(TAVIX_WINDOWS_DIR ${CMAKE_CURRENT_LIST_DIR})
set(TAVIX_WINDOWS_NAME tavix-gateway-tool-${PROJECT_VERSION})

configure_file(${TAVIX_WINDOWS_DIR}/tavix-gateway-tool.rc.in
               ${CMAKE_BINARY_DIR}/tavix-gateway-tool.rc @ONLY)
target_sources(tavix-gateway-tool PRIVATE ${CMAKE_BINARY_DIR}/tavix-gateway-tool.rc)
set_target_properties(tavix-gateway-tool PROPERTIES WIN32_EXECUTABLE ON)
set_property(SOURCE ${CMAKE_BINARY_DIR}/tavix-gateway-tool.rc APPEND PROPERTY
             OBJECT_DEPENDS ${TAVIX_WINDOWS_DIR}/tavix-gateway-tool.ico)

# TAVIX_QT_PREFIX, the Qt that build-qt.sh made, holds the DLLs and plugins
# the folder takes.
if(NOT TAVIX_QT_PREFIX)
    message(FATAL_ERROR "TAVIX_QT_PREFIX names no Qt for Windows: build with make windows")
endif()

add_custom_target(windows-dist
    COMMAND bash ${TAVIX_WINDOWS_DIR}/dist.sh
            --exe $<TARGET_FILE:tavix-gateway-tool>
            --qt ${TAVIX_QT_PREFIX}
            --name ${TAVIX_WINDOWS_NAME}
            --version ${PROJECT_VERSION}
            --out ${CMAKE_BINARY_DIR}
    DEPENDS tavix-gateway-tool
    COMMENT "Packing ${TAVIX_WINDOWS_NAME}-win64.zip and ${TAVIX_WINDOWS_NAME}-setup.exe"
    VERBATIM)

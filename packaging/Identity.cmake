# The program's identity, kept in one place: the version is the project version, and the
# application id names the desktop entry, the icon, the AppStream file and the MIME file.
# Included right after project(), before the layers.
set(QV_APP_ID "org.quorvalin.Quorvalin")
set(QV_HOMEPAGE "https://quorvalin.org")

configure_file(${CMAKE_CURRENT_LIST_DIR}/Version.h.in ${PROJECT_BINARY_DIR}/generated/qv/Version.h @ONLY)

# Only the programs' layers include the header ("qv/Version.h"); the other layers' compile
# lines stay as they are. Deferred until the layers' targets exist.
function(_qv_version_header_users)
  foreach(t qv_cli_core qv_app)
    if(TARGET ${t})
      target_include_directories(${t} PUBLIC ${PROJECT_BINARY_DIR}/generated)
    endif()
  endforeach()
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL _qv_version_header_users)

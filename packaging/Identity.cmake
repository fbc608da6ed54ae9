# The program's identity, kept in one place: the version is the project version, and the
# application id names the desktop entry, the icon, the AppStream file and the MIME file.
# Included right after project(), before the layers, so every layer sees the header.
set(QV_APP_ID "org.quorvalin.Quorvalin")
set(QV_HOMEPAGE "https://quorvalin.org")

configure_file(${CMAKE_CURRENT_LIST_DIR}/Version.h.in ${PROJECT_BINARY_DIR}/generated/qv/Version.h @ONLY)
include_directories(${PROJECT_BINARY_DIR}/generated)

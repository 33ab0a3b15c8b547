# SPDX-License-Identifier: MIT
# Debian package settings shared by the whole project's build (the vantor and vantor-agent packages) and
# the agent's own build (vantor-agent alone, for instance cross-built for arm64). The includer sets
# CPACK_COMPONENTS_ALL and then includes CPack. See scripts/package.
include_guard(GLOBAL)
include(GNUInstallDirs)
include(${CMAKE_CURRENT_LIST_DIR}/VantorGzip.cmake)
set(vantor_top ${CMAKE_CURRENT_LIST_DIR}/..)

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_PACKAGE_VENDOR "Vantor")
set(CPACK_PACKAGE_CONTACT "Vantor maintainers <maintainers@vantor.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SOURCE vantor)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
if(CMAKE_CROSSCOMPILING)
  # CPack would name the build machine's architecture; the package is for the target's (arm64 for
  # aarch64-linux-gnu).
  execute_process(COMMAND dpkg-architecture -t ${CMAKE_LIBRARY_ARCHITECTURE} -qDEB_HOST_ARCH
                  OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE OUTPUT_STRIP_TRAILING_WHITESPACE
                  ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
endif()

set(CPACK_DEBIAN_AGENT_PACKAGE_NAME vantor-agent)
set(CPACK_DEBIAN_AGENT_PACKAGE_DEPENDS "adduser")
set(CPACK_COMPONENT_AGENT_DESCRIPTION "metrics agent answering the Vantor console
vantor-agent runs on each server watched by the Vantor console and answers its
poll with one JSON reading of the machine: CPU, memory and disk usage, uptime,
load, the state of chosen systemd units, temperatures and alerts. It also
serves the same figures to Prometheus. It runs as its own unprivileged user
under a hardened systemd unit, which is not enabled until a token is set.")
set(agent_scripts postinst prerm postrm)
list(TRANSFORM agent_scripts PREPEND ${vantor_top}/agent/packaging/)
set(CPACK_DEBIAN_AGENT_PACKAGE_CONTROL_EXTRA ${agent_scripts})

# Each package's copyright and Debian changelog. The changelog's newest entry must name the version
# being built, so that a version change cannot ship without its entry.
set(debian_version ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})
file(STRINGS ${vantor_top}/packaging/changelog changelog_top LIMIT_COUNT 1)
if(NOT changelog_top MATCHES "^vantor \\(${debian_version}\\) ")
  message(FATAL_ERROR "packaging/changelog: the newest entry is not for ${debian_version}: ${changelog_top}")
endif()
configure_file(${vantor_top}/packaging/changelog ${PROJECT_BINARY_DIR}/changelog.Debian COPYONLY)
install(FILES ${vantor_top}/agent/packaging/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vantor-agent
        COMPONENT agent)
vantor_install_gzipped(${PROJECT_BINARY_DIR}/changelog.Debian ${CMAKE_INSTALL_DATADIR}/doc/vantor-agent agent)

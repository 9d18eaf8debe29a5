# The release layout. `cmake --install <build> --prefix <somewhere>/KavriZelvo`
# makes a release folder the self-updater can replace in place:
#   bin/kavri-zelvo
#   share/kavri-zelvo/kavri-zelvo-guide.pdf the field guide (cmake/Guide.cmake)
#   share/kavri-zelvo/update.pub            the publisher's public key (ZELVO_UPDATE_KEY)
#   share/kavri-zelvo/release.manifest      written by scripts/sign-release
#   share/kavri-zelvo/release.manifest.minisig
# Without a public key the program never stages an update: it only reports one.
set(ZELVO_UPDATE_KEY "" CACHE FILEPATH "The publisher's minisign public key, installed as share/kavri-zelvo/update.pub")

# The file-list tool scripts/sign-release runs.
add_executable(kavri-zelvo-manifest ${CMAKE_CURRENT_LIST_DIR}/../tools/release-manifest.cpp)
zelvo_warnings(kavri-zelvo-manifest)
target_link_libraries(kavri-zelvo-manifest PRIVATE ZelvoCore)

if(TARGET kavri-zelvo)
  install(TARGETS kavri-zelvo RUNTIME DESTINATION bin)
endif()
install(DIRECTORY DESTINATION share/kavri-zelvo)
if(ZELVO_UPDATE_KEY)
  install(FILES ${ZELVO_UPDATE_KEY} DESTINATION share/kavri-zelvo RENAME update.pub)
endif()

# The updater's tests sign fixture releases with the tool.
if(TARGET test_app_state)
  add_dependencies(test_app_state kavri-zelvo-manifest)
endif()

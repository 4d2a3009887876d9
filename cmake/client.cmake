# The Windows client: libraries per subsystem folder, the program, and its resources.
# The networking and catalogue folders are globbed, less the portable core's files.

set(PAVOSET_CORE_SOURCES
  catalogue/field_split.cpp catalogue/entity_names.cpp catalogue/file_checksum.cpp
  catalogue/library_name.cpp catalogue/base64.cpp catalogue/manifest.cpp
  catalogue/static_layout.cpp net/transfer_bound.cpp
  net/framed/packet_codec.cpp net/framed/ack_datagram.cpp
  settings/config_loader.cpp)

function(pavoset_glob out)
  file(GLOB found CONFIGURE_DEPENDS ${ARGN})
  set(kept)
  foreach(f ${found})
    file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR} ${f})
    if(NOT rel IN_LIST PAVOSET_CORE_SOURCES)
      list(APPEND kept ${f})
    endif()
  endforeach()
  set(${out} ${kept} PARENT_SCOPE)
endfunction()

# Networking: text, framed and web channels, plus the shared server address.
pavoset_glob(net_sources ${CMAKE_SOURCE_DIR}/net/*.cpp ${CMAKE_SOURCE_DIR}/net/text/*.cpp
             ${CMAKE_SOURCE_DIR}/net/framed/*.cpp ${CMAKE_SOURCE_DIR}/net/web/*.cpp)
add_library(pavoset_net STATIC ${net_sources} ${CMAKE_SOURCE_DIR}/settings/server_address.cpp)
target_link_libraries(pavoset_net PUBLIC pavoset_core ws2_32 shell32 bcrypt winhttp)

# Catalogue, comparison, installers, ledger; the registry store and offline configuration.
pavoset_glob(catalogue_sources ${CMAKE_SOURCE_DIR}/catalogue/*.cpp)
add_library(pavoset_catalogue STATIC ${catalogue_sources}
  ${CMAKE_SOURCE_DIR}/settings/registry_store.cpp ${CMAKE_SOURCE_DIR}/settings/offline_config.cpp
  ${CMAKE_SOURCE_DIR}/settings/publisher_key.cpp ${CMAKE_SOURCE_DIR}/settings/library_url.cpp)
target_link_libraries(pavoset_catalogue PUBLIC pavoset_net advapi32 comctl32 user32)

# Settings user interface: the address control and the settings dialog.
add_library(pavoset_settings_ui STATIC ${CMAKE_SOURCE_DIR}/settings/ip_address_control.cpp
  ${CMAKE_SOURCE_DIR}/settings/settings_dialog.cpp)
target_link_libraries(pavoset_settings_ui PUBLIC pavoset_catalogue comctl32 gdi32 user32)

# The program.
add_subdirectory(${CMAKE_SOURCE_DIR}/app ${CMAKE_BINARY_DIR}/app)

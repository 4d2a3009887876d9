# The Windows client: libraries per subsystem folder, the program, and its resources.
# Folders are globbed so each subsystem owns its own file list.

set(PAVOSET_CORE_SOURCES
  catalogue/field_split.cpp catalogue/entity_names.cpp catalogue/file_checksum.cpp
  catalogue/library_name.cpp net/framed/packet_codec.cpp net/framed/ack_datagram.cpp
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

# Networking: text channel and framed channel, plus the shared server address.
pavoset_glob(net_sources ${CMAKE_SOURCE_DIR}/net/*.cpp ${CMAKE_SOURCE_DIR}/net/text/*.cpp
             ${CMAKE_SOURCE_DIR}/net/framed/*.cpp)
add_library(pavoset_net STATIC ${net_sources} ${CMAKE_SOURCE_DIR}/settings/server_address.cpp)
target_link_libraries(pavoset_net PUBLIC pavoset_core ws2_32 shell32)

# Catalogue, comparison, installers, ledger; the registry store and offline configuration.
pavoset_glob(catalogue_sources ${CMAKE_SOURCE_DIR}/catalogue/*.cpp)
set(store_sources)
foreach(f registry_store offline_config)
  if(EXISTS ${CMAKE_SOURCE_DIR}/settings/${f}.cpp)
    list(APPEND store_sources ${CMAKE_SOURCE_DIR}/settings/${f}.cpp)
  endif()
endforeach()
if(catalogue_sources OR store_sources)
  add_library(pavoset_catalogue STATIC ${catalogue_sources} ${store_sources})
  target_link_libraries(pavoset_catalogue PUBLIC pavoset_net advapi32 comctl32 user32)
endif()

# Settings user interface: the address control and the settings dialog.
set(settings_ui_sources)
foreach(f ip_address_control settings_dialog)
  if(EXISTS ${CMAKE_SOURCE_DIR}/settings/${f}.cpp)
    list(APPEND settings_ui_sources ${CMAKE_SOURCE_DIR}/settings/${f}.cpp)
  endif()
endforeach()
if(settings_ui_sources)
  add_library(pavoset_settings_ui STATIC ${settings_ui_sources})
  target_link_libraries(pavoset_settings_ui PUBLIC pavoset_core comctl32 gdi32 user32)
  if(TARGET pavoset_catalogue)
    target_link_libraries(pavoset_settings_ui PUBLIC pavoset_catalogue)
  endif()
endif()

# The program.
if(EXISTS ${CMAKE_SOURCE_DIR}/app/CMakeLists.txt)
  add_subdirectory(${CMAKE_SOURCE_DIR}/app ${CMAKE_BINARY_DIR}/app)
endif()

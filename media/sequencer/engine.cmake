# The sequencer device, the built-in synthesizer and the MIDI-OUT ports.
if(NOT PLIMRA_FUZZ)
  add_library(plimra_sequencer STATIC
    ${CMAKE_CURRENT_LIST_DIR}/song.cpp
    ${CMAKE_CURRENT_LIST_DIR}/player.cpp
    ${CMAKE_CURRENT_LIST_DIR}/builtin_synth.cpp
    ${CMAKE_CURRENT_LIST_DIR}/port_output.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sequencer_device.cpp
    ${CMAKE_CURRENT_LIST_DIR}/register.cpp
  )
  target_link_libraries(plimra_sequencer PUBLIC
    plimra_smf plimra_mci plimra_audio PkgConfig::FLUIDSYNTH PkgConfig::RTMIDI
    PkgConfig::JACK PkgConfig::ALSA)
  # Also linked into the program's engines module.
  set_target_properties(plimra_sequencer PROPERTIES POSITION_INDEPENDENT_CODE ON)
endif()

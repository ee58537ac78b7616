# The link with timed reads and the line snapshots, built into the serial port library.
target_sources(CPP_ALL PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ComLink.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LineSnapshots.cpp
)

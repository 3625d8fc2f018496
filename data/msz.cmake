# The default message-definition table: built by the msz tool from its text
# source into the deployment folder, rebuilt whenever the source or the tool
# changes. A text whose conversions do not fit its declared arguments fails
# the build.
set(_msz_source ${CMAKE_CURRENT_SOURCE_DIR}/msz/MSG_DEFINE_ServerApp_Log.txt)
set(_msz_output ${SERVERAPP_DIST_DIR}/rez/NationMsz/MSG_DEFINE_ServerApp_Log.msz)
add_custom_command(OUTPUT ${_msz_output}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${SERVERAPP_DIST_DIR}/rez/NationMsz
  COMMAND msz build ${_msz_source} ${_msz_output}
  DEPENDS ${_msz_source} msz
  COMMENT "Building rez/NationMsz/MSG_DEFINE_ServerApp_Log.msz"
  VERBATIM)
add_custom_target(dist_msz ALL DEPENDS ${_msz_output})

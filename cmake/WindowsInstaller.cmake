# The Windows installer: build/windows/Sentrel-VERSION.msi, made by wixl
# (Debian's wixl) from resources/windows/sentrel.wxs.in with the program and
# its language files. Part of the Windows build wherever wixl is found.
find_program(SENTREL_WIXL wixl)
if(NOT SENTREL_WIXL)
  message(STATUS "wixl not found: no Windows installer (scripts/setup.sh installs it)")
  return()
endif()

set(msi_stage ${CMAKE_BINARY_DIR}/msi)
set(SENTREL_MSI ${CMAKE_BINARY_DIR}/Sentrel-${PROJECT_VERSION}.msi)
configure_file(${PROJECT_SOURCE_DIR}/resources/windows/sentrel.wxs.in ${msi_stage}/sentrel.wxs @ONLY)
file(GLOB msi_language_files ${PROJECT_SOURCE_DIR}/resources/lang/*.lng)
add_custom_command(OUTPUT ${SENTREL_MSI}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:sentrel> ${msi_language_files} ${msi_stage}
  COMMAND ${SENTREL_WIXL} -o ${SENTREL_MSI} sentrel.wxs
  WORKING_DIRECTORY ${msi_stage}
  DEPENDS sentrel ${msi_stage}/sentrel.wxs ${msi_language_files}
  COMMENT "Windows installer ${SENTREL_MSI}"
  VERBATIM)
add_custom_target(sentrel_msi ALL DEPENDS ${SENTREL_MSI})

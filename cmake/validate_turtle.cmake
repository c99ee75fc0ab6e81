# Checks a bundle's Turtle against the LV2 schemas installed on the system:
#   cmake -DVALIDATE=sord_validate -DBUNDLE=dir -P validate_turtle.cmake
file(GLOB_RECURSE schemas /usr/lib/lv2/*.ttl /usr/local/lib/lv2/*.ttl)
file(GLOB_RECURSE exclude /usr/lib/lv2/tarnvale.lv2/*.ttl /usr/local/lib/lv2/tarnvale.lv2/*.ttl)
if(exclude)
  list(REMOVE_ITEM schemas ${exclude})  # an installed copy of the bundle itself
endif()
if(NOT schemas)
  message(FATAL_ERROR "no LV2 schemas under /usr/lib/lv2 (Debian's lv2-dev installs them)")
endif()
file(GLOB bundle ${BUNDLE}/*.ttl)
execute_process(COMMAND ${VALIDATE} ${schemas} ${bundle} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
message("${out}")
if(NOT result EQUAL 0 OR NOT out MATCHES "Found 0 errors")
  message(FATAL_ERROR "the bundle's Turtle does not validate")
endif()

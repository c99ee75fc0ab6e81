# Checks a bundle's Turtle against the LV2 specifications and nothing else:
#   cmake -DVALIDATE=sord_validate -DBUNDLE=dir [-DSCHEMAS=dir] -P validate_turtle.cmake
# The specifications are the bundles the LV2 project itself publishes (what
# Debian's lv2-dev installs), taken from the first of SCHEMAS, /usr/lib/lv2
# and /usr/local/lib/lv2 that holds core.lv2. Other plug-ins installed
# beside them are not read: their Turtle is their vendors' business, and
# errors in it must not fail this check.
set(specifications
  atom buf-size core data-access dynmanifest event instance-access log midi morph options parameters
  patch port-groups port-props presets resize-port schemas state time ui units uri-map urid worker)

set(folder "")
foreach(candidate ${SCHEMAS} /usr/lib/lv2 /usr/local/lib/lv2)
  if(EXISTS ${candidate}/core.lv2/lv2core.ttl)
    set(folder ${candidate})
    break()
  endif()
endforeach()
if(NOT folder)
  message(FATAL_ERROR "no LV2 specifications (core.lv2) under /usr/lib/lv2 or /usr/local/lib/lv2 (Debian's lv2-dev installs them)")
endif()

set(schemas "")
foreach(name ${specifications})
  file(GLOB files ${folder}/${name}.lv2/*.ttl)
  list(APPEND schemas ${files})
endforeach()
file(GLOB bundle ${BUNDLE}/*.ttl)
if(NOT bundle)
  message(FATAL_ERROR "no Turtle in ${BUNDLE}")
endif()
execute_process(COMMAND ${VALIDATE} ${schemas} ${bundle} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
message("${out}")
if(NOT result EQUAL 0 OR NOT out MATCHES "Found 0 errors")
  message(FATAL_ERROR "the bundle's Turtle does not validate against the LV2 specifications in ${folder}")
endif()

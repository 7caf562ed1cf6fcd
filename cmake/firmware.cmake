# The firmware shipped beside tavrin-installator. A release build names its
# DFU file with -DTAVRIN_FIRMWARE=path; without it the program ships the
# generated test image, and the configure output and the package say so.
set(TAVRIN_FIRMWARE "" CACHE FILEPATH
    "Firmware (a DFU file) shipped beside tavrin-installator; empty: a generated test image")

# What can be checked before anything is built: the file is there and ends
# in a DFU suffix. Its CRC and image length are checked by tavrin-dfu check
# when the build stages it.
function(tavrin_check_firmware_suffix file)
  if(NOT EXISTS "${file}" OR IS_DIRECTORY "${file}")
    message(FATAL_ERROR "TAVRIN_FIRMWARE: ${file} is not a file")
  endif()
  file(SIZE "${file}" size)
  if(size LESS 30)
    message(FATAL_ERROR "TAVRIN_FIRMWARE: ${file} holds ${size} bytes, too few for an image "
                        "and its 16-byte DFU suffix")
  endif()
  math(EXPR suffix "${size} - 16")
  file(READ "${file}" bytes OFFSET ${suffix} HEX)
  # bcdDFU 0x0100 little-endian, then "UFD", at suffix bytes 6 to 10.
  string(SUBSTRING "${bytes}" 12 10 fields)
  if(NOT fields STREQUAL "0001554644")
    message(FATAL_ERROR "TAVRIN_FIRMWARE: ${file} does not end in a DFU suffix")
  endif()
endfunction()

if(TAVRIN_FIRMWARE)
  get_filename_component(TAVRIN_FIRMWARE "${TAVRIN_FIRMWARE}" ABSOLUTE)
  tavrin_check_firmware_suffix("${TAVRIN_FIRMWARE}")
  message(STATUS "tavrin-installator ships the firmware ${TAVRIN_FIRMWARE}")
else()
  message(STATUS "tavrin-installator ships a generated TEST firmware image, not a release: "
                 "give -DTAVRIN_FIRMWARE=path/to/firmware.dfu for a release")
endif()

# tavrin_stage_firmware(<output file> <source file>)
# A build rule that checks a given DFU file as an upgrade would and copies it.
function(tavrin_stage_firmware output source)
  get_filename_component(name ${output} NAME)
  add_custom_command(OUTPUT ${output}
    COMMAND tavrin-dfu check ${source}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${output}
    DEPENDS tavrin-dfu ${source}
    COMMENT "Checking and staging ${name} from ${source}"
    VERBATIM)
endfunction()

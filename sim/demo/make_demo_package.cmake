# Writes the demo firmware package into OUTPUT_DIR: an .sfb image that begins with the
# simulator's header line (docs/scenarios.md) so that, once installed on the simulated
# adapter, the application reports VERSION; the manifest naming it; and its SHA-256.
#   cmake -DOUTPUT_DIR=... -DCOMPATIBILITY=0x03 -DVERSION=1.5.0.0 -P make_demo_package.cmake
foreach(input OUTPUT_DIR COMPATIBILITY VERSION)
    if(NOT DEFINED ${input})
        message(FATAL_ERROR "make_demo_package.cmake needs -D${input}=...")
    endif()
endforeach()

set(image_name "velkora_demo_${VERSION}.sfb")
set(header "VELKORA-SIM-IMAGE compatibility=${COMPATIBILITY} version=${VERSION} hwif=1.0.0.0\n")
# 48 000 bytes of body: about a thousand DATA_CHUNK requests, a few seconds on a full-speed
# bus, enough to watch the percentage climb.
set(line "Velkora demo firmware for the simulated adapter only; not an image for a device.\n")
string(LENGTH "${line}" line_length)
math(EXPR repeats "48000 / ${line_length}")
string(REPEAT "${line}" ${repeats} body)

file(MAKE_DIRECTORY ${OUTPUT_DIR})
file(WRITE ${OUTPUT_DIR}/${image_name} "${header}${body}")
file(SHA256 ${OUTPUT_DIR}/${image_name} digest)
string(TOUPPER ${digest} digest)
file(WRITE ${OUTPUT_DIR}/update_manifest.json
"{
  \"package_format\": \"zuq_hid_sbsfu_update\",
  \"product\": \"ZUQ\",
  \"firmware_version\": \"${VERSION}\",
  \"sfb_file\": \"${image_name}\",
  \"sfb_sha256\": \"${digest}\",
  \"package_compatibility\": \"${COMPATIBILITY}\"
}
")

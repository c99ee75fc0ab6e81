# Tarnvale's identity, said once. The VST 2.4 and LV2 faces, the Turtle
# generator and tarnvale-host read it from the generated identity.h; the
# package, its copyright file, changelog and manual page from these
# variables. The version lives in project() in CMakeLists.txt.
set(TARNVALE_NAME "Tarnvale")
set(TARNVALE_VENDOR "The Tarnvale developers")
set(TARNVALE_HOMEPAGE "https://tarnvale.example.org")
set(TARNVALE_CONTACT "dev@tarnvale.example.org")
# The license as an SPDX identifier, its address, and the name Debian's
# copyright format gives it.
set(TARNVALE_LICENSE "MIT")
set(TARNVALE_LICENSE_URI "https://spdx.org/licenses/MIT")
set(TARNVALE_DEBIAN_LICENSE "Expat")
# The VST 2.4 unique identifier: four characters, the first in the most
# significant byte.
set(TARNVALE_UNIQUE_ID "1865")
# The LV2 edition's plug-in URI.
set(TARNVALE_LV2_URI "${TARNVALE_HOMEPAGE}/plugins/mixer16")

string(LENGTH "${TARNVALE_UNIQUE_ID}" tarnvale_id_length)
if(NOT tarnvale_id_length EQUAL 4)
  message(FATAL_ERROR "TARNVALE_UNIQUE_ID must have four characters")
endif()

SUMMARY = "TV browser plug-in module (NPAPI) for the TV's web apps"
DESCRIPTION = "libnptv.so gives a web page that embeds the MIME type \
application/tv a TV object and passes each call to the TV's service \
framework libQuv.so, which the TV maker provides."
SECTION = "libs"
LICENSE = "MIT"
LIC_FILES_CHKSUM = "file://LICENSE;md5=0703d03efe2d01d2be6dec1ed0c597bb"

# The release's sources: point SRC_URI at your copy of the nptv repository
# (a git server of your own, or a release tarball with its SRC_URI checksum).
NPTV_GIT ?= "git://git.example.invalid/nptv.git;protocol=https;branch=main"
SRC_URI = "${NPTV_GIT}"
SRCREV ?= "${AUTOREV}"
PV = "1.0.0"
S = "${WORKDIR}/git"

# The module is linked against the build's own stand-in libQuv.so (built,
# not installed) and loads the TV maker's library by the same SONAME on the
# TV: name the BSP's recipe that provides it here so that it is in the image.
NPTV_FRAMEWORK ?= ""
DEPENDS = "icu"
RDEPENDS:${PN} += "${NPTV_FRAMEWORK}"

inherit cmake

# The std::string ABI of the maker's libQuv.so: ON for the C++11 ABI (names
# with __cxx11), OFF for the ABI of GCC before 5 (see docs/firmware.md).
NPTV_CXX11_ABI ?= "ON"
# The folder the TV's browser loads plug-ins from.
NPTV_PLUGIN_DIR ?= "${libdir}/browser-plugins"
# ON where event texts come from broadcast data: a handler given by name then
# gets them as string literals (see docs/firmware.md).
NPTV_QUOTE_EVENT_TEXTS ?= "OFF"
# ON: also build the recorder, package ${PN}-recorder: a libQuv.so in a
# folder of its own that stands in front of the maker's and writes a trace
# (see docs/recorder.md). NPTV_QUV_TRACE_TARGET is the maker's library.
NPTV_RECORDER ?= "OFF"
NPTV_RECORDER_DIR ?= "${libdir}/nptv-recorder"
NPTV_QUV_TRACE_TARGET ?= "${libdir}/libQuv.so"
# ON where the TV's browser is WPE WebKit: the web-process extension that
# hosts the module there, in package ${PN}-wpe (see docs/wpe-tv.md); its
# folder is what the browser gives WPE as the web extensions folder.
NPTV_WPE ?= "OFF"
NPTV_WPE_EXTENSION_DIR ?= "${libdir}/nptv/wpe"
DEPENDS += "${@'wpewebkit' if d.getVar('NPTV_WPE') == 'ON' else ''}"

EXTRA_OECMAKE = "\
    -DNPTV_TESTS=OFF \
    -DNPTV_BROWSER=OFF \
    -DNPTV_BENCH=OFF \
    -DNPTV_INSTALL_SIMULATOR=OFF \
    -DNPTV_CXX11_ABI=${NPTV_CXX11_ABI} \
    -DNPTV_PLUGIN_DIR=${NPTV_PLUGIN_DIR} \
    -DNPTV_QUOTE_EVENT_TEXTS=${NPTV_QUOTE_EVENT_TEXTS} \
    -DNPTV_INSTALL_RECORDER=${NPTV_RECORDER} \
    -DNPTV_RECORDER_DIR=${NPTV_RECORDER_DIR} \
    -DNPTV_QUV_TRACE_TARGET=${NPTV_QUV_TRACE_TARGET} \
    -DNPTV_WEBKIT=OFF \
    -DNPTV_WPE=${NPTV_WPE} \
    -DNPTV_WPE_EXTENSION_DIR=${NPTV_WPE_EXTENSION_DIR} \
"

# The stand-in framework is not installed; the module finds the maker's
# libQuv.so by its SONAME.
PACKAGES =+ "${PN}-check ${PN}-recorder ${PN}-wpe"
FILES:${PN} = "${NPTV_PLUGIN_DIR}/libnptv.so"
FILES:${PN}-recorder = "${NPTV_RECORDER_DIR}/libQuv.so"
INSANE_SKIP:${PN}-recorder += "dev-so"
FILES:${PN}-check = "${bindir}/check-framework"
RDEPENDS:${PN}-check = "python3-core binutils"
FILES:${PN}-wpe = "${NPTV_WPE_EXTENSION_DIR}/libnptv-wpe.so"
RDEPENDS:${PN}-wpe = "${PN}"
# libnptv.so is a plug-in without a version in its name, not a library of
# the linker's path.
INSANE_SKIP:${PN} += "dev-so"
INSANE_SKIP:${PN}-wpe += "dev-so"

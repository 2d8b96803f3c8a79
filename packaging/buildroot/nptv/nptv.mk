################################################################################
#
# nptv
#
################################################################################

NPTV_VERSION = 1.0.0
# The git repository the release is taken from (BR2_PACKAGE_NPTV_SITE), at
# the tag or commit NPTV_VERSION names; or a checkout of your own, named in local.mk by
# NPTV_OVERRIDE_SRCDIR.
NPTV_SITE = $(call qstrip,$(BR2_PACKAGE_NPTV_SITE))
NPTV_SITE_METHOD = git
NPTV_LICENSE = MIT
NPTV_LICENSE_FILES = LICENSE
NPTV_INSTALL_STAGING = NO
# icu for its headers; the maker's libQuv.so comes from the BSP (the
# package named by BR2_PACKAGE_NPTV_FRAMEWORK, when there is one).
NPTV_DEPENDENCIES = icu $(call qstrip,$(BR2_PACKAGE_NPTV_FRAMEWORK))

NPTV_CONF_OPTS = \
	-DNPTV_TESTS=OFF \
	-DNPTV_BROWSER=OFF \
	-DNPTV_BENCH=OFF \
	-DNPTV_INSTALL_SIMULATOR=OFF \
	-DNPTV_PLUGIN_DIR=$(call qstrip,$(BR2_PACKAGE_NPTV_PLUGIN_DIR))

ifeq ($(BR2_PACKAGE_NPTV_CXX11_ABI),y)
NPTV_CONF_OPTS += -DNPTV_CXX11_ABI=ON
else
NPTV_CONF_OPTS += -DNPTV_CXX11_ABI=OFF
endif

ifeq ($(BR2_PACKAGE_NPTV_RECORDER),y)
NPTV_CONF_OPTS += -DNPTV_INSTALL_RECORDER=ON \
	-DNPTV_RECORDER_DIR=/usr/lib/nptv-recorder \
	-DNPTV_QUV_TRACE_TARGET=$(call qstrip,$(BR2_PACKAGE_NPTV_RECORDER_TARGET))
else
NPTV_CONF_OPTS += -DNPTV_INSTALL_RECORDER=OFF
endif

ifeq ($(BR2_PACKAGE_NPTV_QUOTE_EVENT_TEXTS),y)
NPTV_CONF_OPTS += -DNPTV_QUOTE_EVENT_TEXTS=ON
else
NPTV_CONF_OPTS += -DNPTV_QUOTE_EVENT_TEXTS=OFF
endif

# The WPE WebKit extension, in a folder of its own (see docs/wpe-tv.md).
ifeq ($(BR2_PACKAGE_NPTV_WPE),y)
NPTV_DEPENDENCIES += wpewebkit
NPTV_CONF_OPTS += -DNPTV_WEBKIT=OFF -DNPTV_WPE=ON \
	-DNPTV_WPE_EXTENSION_DIR=/usr/lib/nptv/wpe
else
NPTV_CONF_OPTS += -DNPTV_WEBKIT=OFF -DNPTV_WPE=OFF
endif

# Not on the TV: the documents, and check-framework unless asked for.
define NPTV_REMOVE_EXTRAS
	rm -rf $(TARGET_DIR)/usr/share/doc/nptv
	rm -rf $(TARGET_DIR)/usr/share/doc/nptv-recorder
	rm -rf $(TARGET_DIR)/usr/share/doc/nptv-wpe
	$(if $(BR2_PACKAGE_NPTV_CHECK_FRAMEWORK),,rm -f $(TARGET_DIR)/usr/bin/check-framework)
endef
NPTV_POST_INSTALL_TARGET_HOOKS += NPTV_REMOVE_EXTRAS

$(eval $(cmake-package))

#!/usr/bin/env bash
# Builds the emulated ARM system the WPE extension is tried on: Debian 12's
# armhf kernel (linux-image-armmp, everything the image needs is built into
# it) and an initramfs made of Debian's armhf packages: cog with WPE WebKit's
# runtime (apt's closure of cog, without recommends) and busybox-static,
# unpacked with dpkg-deb, started by ./init. Nothing prebuilt is downloaded:
# only Debian's packages, through an apt configuration of our own.
#
#   tools/arm-system/build-image.sh [CACHE]      default: build/arm-system
#
# Prints the folder of the image (vmlinuz, root.cpio). The image is cached by
# content: its folder is named by a hash of the resolved package list with
# versions and of this folder's scripts, so a second run with the same
# packages returns at once and a new Debian point release makes a new image.
set -euo pipefail

# cog, the GL ES library WPE's web process opens by name and the MIME
# database that tells a page's type from its name (neither in cog's
# closure), and busybox for the shell and tools of ./init.
ROOTS=(cog libgles2 shared-mime-info busybox-static)
KERNEL=linux-image-armmp

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../.." && pwd)
cache=${1:-$repo/build/arm-system}
mkdir -p "$cache"
cache=$(cd "$cache" && pwd)
# shellcheck source=tools/armhf-apt.sh
source "$repo/tools/armhf-apt.sh"
armhf_apt_setup "$cache/apt" >&2

specs=()
for p in "${ROOTS[@]}"; do specs+=("$p:armhf"); done
# "Inst NAME (VERSION SUITE [ARCH])": the whole closure, on an empty dpkg status.
closure=$(apt-get "${armhf_apt[@]}" -s install --no-install-recommends "${specs[@]}" \
            | sed -n 's/^Inst \([^ ]*\) (\([^ ]*\) .*/\1 \2/p' | sort)
# The kernel alone, not its install-time tools (kmod, initramfs-tools).
kernel=$(apt-cache "${armhf_apt[@]}" depends "$KERNEL:armhf" | sed -n 's/^ *Depends: \(linux-image-[^ :]*\).*/\1/p' | head -n 1)
kernel_version=$(apt-cache "${armhf_apt[@]}" show "$kernel:armhf" | sed -n 's/^Version: //p' | head -n 1)
if [[ -z $closure || -z $kernel || -z $kernel_version ]]; then
  echo "arm-system: could not resolve the packages (closure: $(wc -l <<<"$closure") lines, kernel '$kernel')" >&2
  exit 1
fi
key=$( { echo "$closure"; echo "$kernel $kernel_version"; cat "$here/build-image.sh" "$here/init"; } \
       | sha256sum | cut -c1-16)
image=$cache/image-$key
if [[ -f $image/root.cpio && -f $image/vmlinuz ]]; then
  echo "arm-system: image up to date ($(wc -l <<<"$closure") packages, $kernel $kernel_version)" >&2
  echo "$image"
  exit 0
fi

echo "arm-system: building the image: $(wc -l <<<"$closure") packages and $kernel $kernel_version" >&2
debs=$cache/debs
mkdir -p "$debs"
(cd "$debs" && rm -f ./*.deb &&
 apt-get "${armhf_apt[@]}" -q download $(awk '{print $1":armhf"}' <<<"$closure") "$kernel:armhf" >&2)

work=$image.new
rm -rf "$cache"/image-*   # one image at a time: older ones are stale
mkdir -p "$work/root"
root=$work/root
for deb in "$debs"/*.deb; do
  case $(basename "$deb") in
    linux-image-*) dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$work" --wildcards './boot/vmlinuz-*' ;;
    *) dpkg-deb -x "$deb" "$root" ;;
  esac
done
# Debian 12's merged /usr, which dpkg-deb -x does not make.
for d in bin sbin lib; do
  if [[ -d $root/$d && ! -L $root/$d ]]; then
    mkdir -p "$root/usr/$d"
    cp -a "$root/$d/." "$root/usr/$d/"
    rm -rf "${root:?}/$d"
  fi
  ln -sfn "usr/$d" "$root/$d"
done
# What a page run never reads.
rm -rf "$root"/usr/share/{doc,man,info,locale,lintian,bug,bash-completion,zsh} \
       "$root"/usr/share/perl* "$root"/usr/lib/arm-linux-gnueabihf/perl* "$root"/usr/share/i18n \
       "$root"/usr/lib/arm-linux-gnueabihf/gconv
# What the packages' maintainer scripts would have made: the MIME cache
# (architecture-independent; the build machine's update-mime-database).
update-mime-database "$root/usr/share/mime"
mkdir -p "$root"/{proc,sys,dev,tmp,run,root,etc}
install -m 0755 "$here/init" "$root/init"
mv "$work"/boot/vmlinuz-* "$work/vmlinuz"
rmdir "$work/boot"
(cd "$root" && find . -mindepth 1 | LC_ALL=C sort | cpio -o -H newc -R 0:0 --quiet) >"$work/root.cpio"
rm -rf "$root"
mv "$work" "$image"
echo "arm-system: image ready: $image ($(du -m "$image/root.cpio" | cut -f1) MB)" >&2
echo "$image"

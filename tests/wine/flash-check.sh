# Sourced by the Wine suites that upgrade a simulated handheld: what its
# flash.bin must hold after the upgrade.
#   flash_save_boot_block HANDHELD FILE     keeps the boot block as it was before
#   flash_holds_image IMAGE HANDHELD FILE   the image's payload (the image less its
#                                           header) lies in flash.bin from the end of
#                                           the boot block on, and the boot block is
#                                           as FILE kept it; else prints what differs
#                                           and returns non-zero
IMAGE_HEADER=32
BOOT_BLOCK=$((0x40000))

flash_save_boot_block() { head -c "$BOOT_BLOCK" "$1/flash.bin" >"$2"; }

flash_holds_image() {
  local image=$1 flash=$2/flash.bin saved=$3
  local size=$(($(stat -c %s "$image") - IMAGE_HEADER))
  if ! cmp -s <(tail -c +$((IMAGE_HEADER + BOOT_BLOCK + 1)) "$image") \
              <(tail -c +$((BOOT_BLOCK + 1)) "$flash" | head -c $((size - BOOT_BLOCK))); then
    echo "flash.bin does not hold the image's payload from $(printf '%#x' "$BOOT_BLOCK") on"
    return 1
  fi
  cmp -s "$saved" <(head -c "$BOOT_BLOCK" "$flash") || { echo "the boot block changed"; return 1; }
}

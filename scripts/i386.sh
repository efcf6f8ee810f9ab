# How this machine runs 32-bit x86 programs: natively, or under qemu's
# user-mode emulation through the kernel's binfmt_misc. Source it.

I386_HANDLER_NAME=umbrolux-i386
BINFMT_DIR=/proc/sys/fs/binfmt_misc
QEMU_I386=/usr/bin/qemu-i386-static

# The i386 handler in effect, if any: ours, or one registered by someone else
# (Debian's binfmt-support names it qemu-i386). Prints its entry's path.
i386_handler_entry() {
  local f
  [ -d "$BINFMT_DIR" ] || return 1
  for f in "$BINFMT_DIR/$I386_HANDLER_NAME" "$BINFMT_DIR/qemu-i386"; do
    if [ -f "$f" ] && grep -qx enabled "$f" 2>/dev/null; then
      echo "$f"
      return 0
    fi
  done
  return 1
}

i386_handler_registered() { i386_handler_entry >/dev/null; }

i386_handler_is_ours() { [ -f "$BINFMT_DIR/$I386_HANDLER_NAME" ]; }

unregister_i386_handler() {
  if i386_handler_is_ours; then
    echo -1 > "$BINFMT_DIR/$I386_HANDLER_NAME"
  fi
}

# True when 32-bit x86 programs run at all, natively or emulated (the 32-bit
# loader comes with wine32).
can_run_i386() {
  [ -x /lib/ld-linux.so.2 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1
}

# True when the kernel itself executes them. Only meaningful while no
# emulation handler is registered (binfmt_misc is consulted first).
i386_runs_natively() {
  ! i386_handler_registered && can_run_i386
}

# "natively" or "under emulation" (qemu-i386 through binfmt_misc).
i386_mode() {
  if i386_handler_registered; then echo "under emulation"; else echo "natively"; fi
}

# Registers qemu-i386-static for 32-bit little-endian x86 ELF executables.
# The F flag opens the interpreter now, so it also works in other mount
# namespaces (Wine's loader runs in ours, but a chroot would not see /usr).
register_i386_handler() {
  if ! grep -q "$BINFMT_DIR" /proc/mounts; then
    mount -t binfmt_misc binfmt_misc "$BINFMT_DIR"
  fi
  # ELF header: class 32-bit, little-endian, version 1, type executable or
  # shared object (the mask lets ET_DYN through), machine 3 (i386).
  # Ours, registered before and switched off since: switch it back on.
  if i386_handler_is_ours; then
    echo 1 > "$BINFMT_DIR/$I386_HANDLER_NAME"
    return
  fi
  local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  printf ':%s:M::%s:%s:%s:F\n' "$I386_HANDLER_NAME" "$magic" "$mask" "$QEMU_I386" \
    > "$BINFMT_DIR/register"
}

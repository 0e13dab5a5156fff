"""Memory figures of the current process from /proc (Linux): sizes in KiB, and the reset of the peak."""


def rss_kib(field):
    """The value of a /proc/self/status field such as "VmRSS:" or "VmHWM:", in KiB (0 when absent)."""
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field):
                return int(line.split()[1])
    return 0


def reset_high_water_mark():
    """Resets VmHWM to the current resident size, so a later VmHWM is the peak from here on."""
    with open("/proc/self/clear_refs", "w") as refs:
        refs.write("5")

"""Fleet report from collected firmware update logs (reads logs only, never changes them)."""

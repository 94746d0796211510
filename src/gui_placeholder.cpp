// Keeps orlan_gui a valid library while it has no forms of its own.

"""Tools around the vandrel emulator: the demo cartridge, a headless recorder and a player."""

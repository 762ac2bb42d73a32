"""Tools around the vandrel emulator: the demo and Catch cartridges, a headless recorder
and a player."""

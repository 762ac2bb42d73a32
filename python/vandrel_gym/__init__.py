"""Gymnasium environments and a native batch stepper for vandrel consoles."""

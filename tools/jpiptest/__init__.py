"""Loopback JPIP test server: data-bin index, channels, HTTP front end."""

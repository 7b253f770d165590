"""Helpers of the end-to-end tests: Wine, the UI driver, launcher runs, screenshots."""

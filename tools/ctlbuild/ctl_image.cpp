// Database image writer: placeholder.

// The session entity registry.

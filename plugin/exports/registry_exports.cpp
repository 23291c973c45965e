// Exports of the session entity registry.

// Exports of the host request path.

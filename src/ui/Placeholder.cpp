// UI library placeholder.

// The gestures layer: gesture engine and router, silent player keeper, media service, artwork.

// Pieces of the product library that belong to no single part of it.

#' Encrypts a text with AES-256-CBC under a key of at least 32 bytes (only
#' the first 32 are used). Returns the cipher text as lowercase hexadecimal.
#' @export
encrypt_text <- function(raw_data, key) {
  .Call("encrypt_R", as.character(raw_data), as.character(key), PACKAGE = "Touchlane")
}

#' Decrypts a hexadecimal cipher text made by `encrypt_text` with the same
#' key. Characters that are not printable (tabs, newlines, non-ASCII bytes)
#' are dropped from the result.
#' @export
decrypt_text <- function(raw_data, key) {
  .Call("decrypt_R", as.character(raw_data), as.character(key), PACKAGE = "Touchlane")
}

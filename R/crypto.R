#' Encrypt and decrypt texts
#'
#' `encrypt_text` encrypts each text with AES-256-CBC under a key of at least
#' 32 bytes (only the first 32 are used) and returns the cipher text as
#' lowercase hexadecimal; `decrypt_text` reverses it with the same key.
#' Texts are encrypted as UTF-8 and come back as UTF-8, accents and other
#' non-ASCII characters included; ASCII control characters (tabs, newlines)
#' are dropped from a decrypted text, and so is whatever a wrong key turns
#' into bytes that are not UTF-8 text. The cipher is OpenSSL's; cipher texts
#' written by earlier versions decrypt unchanged. Call the entry points
#' `encrypt_R` and `decrypt_R`.
#'
#' @param text A character vector: plain texts (`encrypt_text`) or cipher
#'   texts (`decrypt_text`).
#' @param key The key, a single string of at least 32 bytes.
#' @return A character vector of the same length.
#' @examples
#' key <- strrep("k", 32)
#' cipher <- encrypt_text(c("paid search", "email", "caf\u00e9"), key)
#' cipher
#' decrypt_text(cipher, key)
#' @export
encrypt_text <- function(text, key) {
  check_string(key, "key")
  vapply(enc2utf8(as.character(text)), function(x) .Call("encrypt_R", x, enc2utf8(key),
                                                         PACKAGE = "Touchlane"), "",
         USE.NAMES = FALSE)
}

#' @rdname encrypt_text
#' @export
decrypt_text <- function(text, key) {
  check_string(key, "key")
  out <- vapply(as.character(text), function(x) .Call("decrypt_R", x, enc2utf8(key),
                                                      PACKAGE = "Touchlane"), "",
                USE.NAMES = FALSE)
  Encoding(out) <- "UTF-8"
  out
}

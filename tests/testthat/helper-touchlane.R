# Shared by every test file: a .Call shortcut and small file helpers.
tl_call <- function(name, ...) .Call(name, ..., PACKAGE = "Touchlane")

write_lines_raw <- function(text, file = tempfile(fileext = ".csv")) {
  con <- file(file, "wb")
  writeBin(charToRaw(text), con)
  close(con)
  file
}

read_text <- function(file) readChar(file, file.info(file)$size, useBytes = TRUE)

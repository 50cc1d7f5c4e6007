key <- "0123456789abcdef0123456789abcdef"

test_that("encrypt returns lowercase hexadecimal of whole blocks", {
  e <- tl_call("encrypt_R", "", key)
  expect_type(e, "character")
  expect_length(e, 1)
  expect_equal(nchar(e), 32)
  expect_match(e, "^[0-9a-f]+$")
  expect_equal(nchar(tl_call("encrypt_R", "exactly sixteen!", key)), 64)
  expect_identical(tl_call("decrypt_R", e, key), "")
})

test_that("printable text round-trips, a tab is dropped on the way back", {
  for (t in c("a", "display > search", paste(rep("xyz", 40), collapse = ""), "~!@# $%^&*()")) {
    expect_identical(tl_call("decrypt_R", tl_call("encrypt_R", t, key), key), t)
  }
  expect_identical(tl_call("decrypt_R", tl_call("encrypt_R", "a\tb", key), key), "ab")
})

test_that("short keys and malformed cipher texts are R errors", {
  expect_error(tl_call("encrypt_R", "x", "short"), "key must be at least 32 bytes long, not 5")
  e <- tl_call("encrypt_R", "x", key)
  expect_error(tl_call("decrypt_R", e, "short"), "at least 32 bytes")
  expect_error(tl_call("decrypt_R", substr(e, 1, 30), key), "multiple of 32 hexadecimal digits")
  expect_error(tl_call("decrypt_R", sub("^.", "z", e), key), "character 1 is not a hexadecimal digit")
  expect_error(tl_call("encrypt_R", c("a", "b"), key), "Expecting a single")
})

test_that("a wrong key is not an error", {
  e <- tl_call("encrypt_R", "secret", key)
  expect_silent(out <- tl_call("decrypt_R", e, paste(rep("k", 32), collapse = "")))
  expect_false(identical(out, "secret"))
})

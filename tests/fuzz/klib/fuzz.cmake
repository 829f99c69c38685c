vd_add_fuzz(klib base64Decode)
vd_add_fuzz(klib strToNumber)

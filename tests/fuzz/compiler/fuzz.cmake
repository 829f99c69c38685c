vd_add_fuzz(compiler compile)

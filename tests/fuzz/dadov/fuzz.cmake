vd_add_fuzz(dadov compileResult)

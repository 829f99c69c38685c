vd_add_fuzz(filewatch eventBatch)

vd_add_fuzz(dbgc lineEditor)
vd_add_fuzz(dbgc modules LIBS tms_internal)
vd_add_fuzz(dbgc wordNumbers)

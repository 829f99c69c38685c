vd_add_fuzz(ossupport routeTable LIBS ossupport_internal)

# Native helpers of the nimbic_scale package.

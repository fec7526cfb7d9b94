"""An IBM i (AS/400) host as far as the update installer can see it over FTP."""

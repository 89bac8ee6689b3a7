[model_time]
